#pragma once

#include "app/controller.h"
