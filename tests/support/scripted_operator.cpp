#include "scripted_operator.h"
