// The compiled-in product definition.
#pragma once

#include <string>

namespace ProductConfig {

// The maker's folder and the product's folder: "Tarvex\Orvane".
std::wstring GetProductFolderW();

}  // namespace ProductConfig
