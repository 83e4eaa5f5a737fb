#include "ProductConfig.h"

namespace ProductConfig {

std::wstring GetProductFolderW() { return L"Tarvex\\Orvane"; }

}  // namespace ProductConfig
