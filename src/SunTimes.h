#pragma once

// Times of sunrise, sunset and civil dawn and dusk for a place, from the standard
// sunrise equation (mean anomaly, equation of centre, ecliptic longitude, solar transit
// and hour angle). Good to a minute or two away from the polar circles, which is all a
// show schedule needs.

#include <ctime>

#include "ScheduleCalendar.h"

enum class SunEvent {
    Dawn,    // civil dawn: sun 6 degrees below the horizon, rising
    SunRise, // upper limb on the horizon, with refraction (-0.833 degrees)
    SunSet,
    Dusk,
};

// The instant of the event on the local date `date` (the day whose local solar noon
// falls on that date) at latitude (north positive) and longitude (east positive), in
// degrees. False when the sun does not reach that altitude that day (polar day or night)
// or the place is not on the globe.
bool SunEventTime(const CivilDate& date, double latitude, double longitude, SunEvent event, time_t& when);
