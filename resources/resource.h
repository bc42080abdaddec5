#pragma once

#define IDD_UPDATE 101
#define IDC_VERSION 1000
#define IDC_FOLDER 1001
