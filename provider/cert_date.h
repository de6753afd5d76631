// Whole days between two calendar dates, for the certificate-expiry alert.
#pragma once

#include <windows.h>

namespace merro::provider {

// The days from `today`'s date to `notAfter`'s date (times of day are not
// looked at): 1 for tomorrow, 0 for today, negative for a past date.
LONG CertDaysLeft(const SYSTEMTIME& notAfter, const SYSTEMTIME& today);

}  // namespace merro::provider
