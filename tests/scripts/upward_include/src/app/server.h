#pragma once
#include "logic/reader.h"
