// The product's name, version and credits, shared by the code and the
// resources.
#pragma once

#include "../../common/version.h"

#define PRODUCT_NAME VERSION_PRODUCT
#define PRODUCT_VERSION VERSION_TEXT
#define PRODUCT_HOME_PAGE "https://quorvane.veskar.example/"
#define ABOUT_MAKER_LINE VERSION_COPYRIGHT
// The recorded voice is licensed CC BY 3.0, which asks for this credit.
#define ABOUT_CREDIT_LINE "音声: HTS Voice NIT ATR503 M001 (C) 名古屋工業大学 CC BY 3.0"
#define ABOUT_CREDIT_WIDTH 213
