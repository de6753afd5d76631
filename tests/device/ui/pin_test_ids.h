// Ids of the PIN field tests' own templates.
#pragma once

#define IDD_TWO_FIELDS 110
#define IDC_FIRST_FIELD 111
#define IDC_SECOND_FIELD 112
#define IDD_PLAIN_EDIT 120
#define IDC_PLAIN_EDIT 121
