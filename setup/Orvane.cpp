#include "Orvane.h"

Orvane::~Orvane() = default;
