// The Windows side of the time stamps: the thread locale as a LocaleSource,
// and the local wall clock.
//
// Called by the start-up sequence (ThreadLocaleSource, once, for
// LoadStampSettings) and by every caller that stamps a text (ReadClock).
// Only Locale.cpp sees <windows.h>.
#pragma once

#include "UTypes.h"
#include "presentation/Stamps.h"

// Items of the calling thread's locale, read with GetLocaleInfoA, and the
// lead bytes of that locale's ANSI code page.
LocaleSource ThreadLocaleSource();

// Now, by GetLocalTime; DayOfWeek 1 = Sunday.
ClockReading ReadClock();
