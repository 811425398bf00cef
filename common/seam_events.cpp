#include "common/seam_events.h"

#include "common/system_events.h"

EventSeam g_eventSeam = {
    &::RegisterEventSourceW,
    &::ReportEventW,
    &::DeregisterEventSource,
    QuerySystemEvents,
};
