#include "ProductInfo.h"

#include <windows.h>

#include <mutex>
#include <new>

#include "ProductConfig.h"
#include "SystemInfo.h"

namespace {

constexpr char kProductGuid[] = "{5034E8F3-E2BE-45B0-902A-AC43B914D64F}";
constexpr char kPublisherText[] = "Tarvex Software Ltd.";
constexpr char kVersion[] = "1.0.0.0";

}  // namespace

ProductInfoZovX64::ProductInfoZovX64() {
    const std::string name = ProductConfig::GetProductName();
    guid_ = kProductGuid;
    internalName_ = name + "_x64";
    isX64_ = true;
    displayName_ = name;
    installFolderName_ = name;
    bitnessDisplayName_ = name + " (x64)";
    productName_ = name;
    version_ = kVersion;
    publisherText_ = kPublisherText;
    logoBitmapId_ = 187;
    logoAltBitmapId_ = 188;
}

ProductInfoZovX86::ProductInfoZovX86() {
    const std::string name = ProductConfig::GetProductName();
    guid_ = kProductGuid;
    internalName_ = name;
    isX64_ = false;
    displayName_ = name;
    installFolderName_ = name;
    bitnessDisplayName_ = name;
    productName_ = name;
    version_ = kVersion;
    publisherText_ = kPublisherText;
    logoBitmapId_ = 138;
    logoAltBitmapId_ = 139;
}

int CreateProductInfo(std::shared_ptr<IProductInfo>& out, int is64) {
    if (is64 == 1) {
        out.reset(new (std::nothrow) ProductInfoZovX64());
    } else {
        out.reset(new (std::nothrow) ProductInfoZovX86());
    }
    return out ? 0 : E_POINTER;
}

std::shared_ptr<IProductInfo>& GetProductInfo() {
    static std::shared_ptr<IProductInfo> info;
    // The first call comes from the user-interface thread before any worker
    // starts; the lock keeps a racing first use from making two objects.
    static std::mutex creation;
    std::lock_guard<std::mutex> guard(creation);
    if (!info) CreateProductInfo(info, Is64BitWindows() ? 1 : 0);
    return info;
}
