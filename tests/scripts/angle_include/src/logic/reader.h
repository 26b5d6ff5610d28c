#pragma once
#include <string>
#include <app/server.h>
