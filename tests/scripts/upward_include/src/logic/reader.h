#pragma once
#include "app/server.h"
