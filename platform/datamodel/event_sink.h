// Receiver of the data model's events (animation triggers and the like).
#pragma once

#include "datamodel/forward.h"

class xxEventSink {
public:
    virtual void OnProcessEvent(const xxEvent& event) = 0;
    // The trigger is going away; drop any pointer to it.
    virtual void OnTriggerDeletion(xxTrigger* trigger) = 0;
    virtual ~xxEventSink() = default;

protected:
    xxEventSink() = default;
    xxEventSink(const xxEventSink&) = default;
    xxEventSink& operator=(const xxEventSink&) = default;
};
