// The version and maker of both programs: the About box, the VERSIONINFO
// resources and the setup script's DisplayVersion all say this.
#pragma once

#define VERSION_MAJOR 1
#define VERSION_MINOR 4
#define VERSION_TEXT "1.4"
#define VERSION_COMPANY "veskar"
#define VERSION_PRODUCT "Quorvane"
#define VERSION_COPYRIGHT "Copyright (C) 2011-2026 veskar"
