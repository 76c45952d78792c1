#include "app/ChildProcess.h"
