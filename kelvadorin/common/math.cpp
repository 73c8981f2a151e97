#include "kelvadorin/common/math.hpp"
