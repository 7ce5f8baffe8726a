// The headers that nearly every test file includes, precompiled once for all test groups
// (VrTestSpeed.cmake). Every file still includes what it uses itself.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>
