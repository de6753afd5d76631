#include "provider/cert_date.h"

namespace merro::provider {
namespace {

// Days since 1 March of year 0 of the proleptic Gregorian calendar, so that
// the leap day ends a year and the month lengths from March on repeat.
LONG DayNumber(const SYSTEMTIME& date) {
  LONG y = date.wYear;
  LONG m = date.wMonth;
  if (m <= 2) {
    y -= 1;
    m += 12;
  }
  // Days before the 1st of month m (3..14), counted from 1 March.
  const LONG daysBeforeMonth = (153 * (m - 3) + 2) / 5;
  return 365 * y + y / 4 - y / 100 + y / 400 + daysBeforeMonth + date.wDay - 1;
}

}  // namespace

LONG CertDaysLeft(const SYSTEMTIME& notAfter, const SYSTEMTIME& today) {
  return DayNumber(notAfter) - DayNumber(today);
}

}  // namespace merro::provider
