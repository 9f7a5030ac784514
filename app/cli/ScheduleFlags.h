#pragma once

#include "core/model/TJobTypes.h"

#include <QString>

class TCliContext;

enum class TScheduleFlags {
    None,         // no schedule flag was given
    Replaced,     // a whole schedule was given
    DisabledOnly, // only --disable: scheduling is turned off, the days and times stay
    Invalid,      // a flag was wrong; the message says why
};

// The schedule flags of "new" and "schedule", taken out of the command's arguments:
//   --days-of-week mon,tue,...  or  --days-of-month 1,15,...   the day selector
//   --at HH:MM:SS (repeatable)                                  start times, kept sorted and unique
//   --catch-up                                                  take a missed start late
//   --shutdown-after                                            turn the computer off after the day's last run
//   --disable                                                   keep the schedule but do not run it
// With a day selector the schedule is replaced as a whole (as the wizard saves its schedule page);
// --disable alone only turns scheduling off. Either change sets LastModificationDateTime to now, so
// a start time that has just passed is not taken.
TScheduleFlags TakeScheduleFlags(TCliContext& context, TSchedulingSettings& schedule, QString& message);

// The usage text of the flags.
QString ScheduleFlagsUsage();
