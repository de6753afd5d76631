// Ids of the dialog base's test template.
#pragma once

#define IDD_BASE_TEST 100
#define IDC_BASE_EDIT 101
#define IDC_BASE_END 102
#define IDC_BASE_THROW 103
