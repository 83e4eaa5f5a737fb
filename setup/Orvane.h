// The product's own main dialog: the steps this product needs around
// extraction (older version, drivers, library registration, the product's
// executable and its switches).
#pragma once

#include <string>

#include "SetupDlg.h"

class Orvane : public SetupDlg {
public:
    Orvane() = default;
    ~Orvane() override;
};
