#pragma once

// Where a setting chosen in a dialog takes effect. The tray program that protects the laptop
// itself puts it in force at once in its own protection. Where the protection service protects
// the laptop, this process only writes the settings key: the service sees the key change and
// puts it in force.

void SetProtectionElsewhere(bool elsewhere);
bool ProtectionElsewhere();

// A protection mode chosen (applied or released at once here), a new delay, a new
// hibernate-after timeout (guarded at once in automatic protection).
void TakeChosenMode(int mode, int alarmDelaySeconds);
void TakeChosenDelay(int mode, int alarmDelaySeconds);
void TakeHibernateChange();
// What may wake the laptop: wake timers, automatic maintenance, the devices chosen.
void TakeWakeChange();

// True where the dialog may not write the key itself (Kalnix beside the service, without an
// administrator's rights): its OK shows the shield and starts the elevated dialog instead.
bool DialogNeedsElevation();
