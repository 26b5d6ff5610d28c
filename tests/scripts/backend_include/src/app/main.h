#pragma once
#include "backend/server.h"
