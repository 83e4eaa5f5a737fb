// The read-only description of the product: one process-wide object whose
// variant follows the bitness of Windows (a 64-bit Windows always gets the
// 64-bit product). Texts point into the object and live as long as it does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class IProductInfo {
public:
    virtual ~IProductInfo() = default;
    virtual const char* GetProductGuid() const = 0;       // registry form, in braces
    virtual const char* GetInternalName() const = 0;      // names the downloaded setup file
    virtual const char* GetDownloadUrl() const = 0;
    virtual const char* GetSpareText() const = 0;
    virtual bool IsX64() const = 0;
    virtual const char* GetDisplayName() const = 0;
    virtual const char* GetInstallFolderName() const = 0;
    virtual const char* GetBitnessDisplayName() const = 0;
    virtual const char* GetVersion() const = 0;
    virtual const char* GetPublisherText() const = 0;
    virtual const wchar_t* GetSpareWideText() const = 0;
    virtual int32_t GetLogoBitmapId() const = 0;
    virtual int32_t GetLogoAltBitmapId() const = 0;
    virtual const char* GetProductName() const = 0;
};

// Holds the values; the variants only fill them in.
class ProductInfoBase : public IProductInfo {
public:
    const char* GetProductGuid() const override { return guid_.c_str(); }
    const char* GetInternalName() const override { return internalName_.c_str(); }
    const char* GetDownloadUrl() const override { return downloadUrl_.c_str(); }
    const char* GetSpareText() const override { return spareText_.c_str(); }
    bool IsX64() const override { return isX64_; }
    const char* GetDisplayName() const override { return displayName_.c_str(); }
    const char* GetInstallFolderName() const override { return installFolderName_.c_str(); }
    const char* GetBitnessDisplayName() const override { return bitnessDisplayName_.c_str(); }
    const char* GetVersion() const override { return version_.c_str(); }
    const char* GetPublisherText() const override { return publisherText_.c_str(); }
    const wchar_t* GetSpareWideText() const override { return spareWideText_.c_str(); }
    int32_t GetLogoBitmapId() const override { return logoBitmapId_; }
    int32_t GetLogoAltBitmapId() const override { return logoAltBitmapId_; }
    const char* GetProductName() const override { return productName_.c_str(); }

protected:
    ProductInfoBase() = default;

    std::string guid_;
    std::string internalName_;
    std::string downloadUrl_;
    std::string spareText_;
    bool isX64_ = false;
    std::string displayName_;
    std::string installFolderName_;
    std::string bitnessDisplayName_;
    std::string productName_;
    std::string version_;
    std::string publisherText_;
    std::wstring spareWideText_;
    int32_t logoBitmapId_ = 0;
    int32_t logoAltBitmapId_ = 0;
};

// The 64-bit build of the product.
class ProductInfoZovX64 : public ProductInfoBase {
public:
    ProductInfoZovX64();
};

// The 32-bit build of the product.
class ProductInfoZovX86 : public ProductInfoBase {
public:
    ProductInfoZovX86();
};

// is64 == 1 makes the 64-bit description, any other value the 32-bit one.
// Returns E_POINTER when nothing could be made, else 0.
int CreateProductInfo(std::shared_ptr<IProductInfo>& out, int is64);

// The process-wide description, made on first use for the bitness of Windows.
// Callers never release it.
std::shared_ptr<IProductInfo>& GetProductInfo();
