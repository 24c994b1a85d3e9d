#include "SunTimes.h"

#include <cmath>

static constexpr double kPi = 3.14159265358979323846;
static double rad(double degrees) { return degrees * kPi / 180.0; }
static double deg(double radians) { return radians * 180.0 / kPi; }

bool SunEventTime(const CivilDate& date, double latitude, double longitude, SunEvent event, time_t& when) {
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || latitude < -90.0 || latitude > 90.0 ||
        longitude < -180.0 || longitude > 180.0) {
        return false;
    }
    // Days since J2000.0 (2000-01-01 12:00 UTC) at noon UTC of the date.
    double n = (double)(DaysFromCivil(date) - DaysFromCivil(CivilDate{2000, 1, 1}));
    double meanSolarTime = n - longitude / 360.0;
    double m = std::fmod(357.5291 + 0.98560028 * meanSolarTime, 360.0);
    if (m < 0) {
        m += 360.0;
    }
    double center = 1.9148 * std::sin(rad(m)) + 0.0200 * std::sin(rad(2 * m)) + 0.0003 * std::sin(rad(3 * m));
    double lambda = std::fmod(m + center + 180.0 + 102.9372, 360.0);
    double transit = 2451545.0 + meanSolarTime + 0.0053 * std::sin(rad(m)) - 0.0069 * std::sin(rad(2 * lambda));
    double sinDecl = std::sin(rad(lambda)) * std::sin(rad(23.4397));
    double cosDecl = std::cos(std::asin(sinDecl));

    double altitude = (event == SunEvent::Dawn || event == SunEvent::Dusk) ? -6.0 : -0.833;
    double cosLat = std::cos(rad(latitude));
    if (std::fabs(cosLat) < 1e-9) {
        return false; // at a pole the hour angle means nothing
    }
    double cosHour = (std::sin(rad(altitude)) - std::sin(rad(latitude)) * sinDecl) / (cosLat * cosDecl);
    if (cosHour < -1.0 || cosHour > 1.0) {
        return false;
    }
    double hourAngle = deg(std::acos(cosHour));
    bool rising = event == SunEvent::Dawn || event == SunEvent::SunRise;
    double julian = transit + (rising ? -hourAngle : hourAngle) / 360.0;
    when = (time_t)std::llround((julian - 2440587.5) * 86400.0);
    return true;
}
