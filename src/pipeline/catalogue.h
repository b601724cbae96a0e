#pragma once
// The download catalogue update (Step5): the web site's download entries of
// the four downloadable products follow the release's versioned copies.
#include <QString>

namespace rh {

class Desk;

struct CatalogueProduct {
    int number = 0;       // file_rname.code; 0 for a setup that is not a product
    int cate3Idx = 0;     // cate3.idx of the product's demo download
    int cate3InfoIdx = 0; // cate3_info.idx
};

// The product of a full setup path (ISResult1), found by its file name after
// every "C:\2TarvelInstalls\" is removed; exact, case-sensitive.
CatalogueProduct catalogueProduct(const QString& setupPath);

// Writes each distributed copy's final name into the web-host catalogue.
// False only when the connection fails.
bool Step5(Desk& desk);

} // namespace rh
