#include "DirectoryTesting.h"

#include <gtest/gtest.h>
