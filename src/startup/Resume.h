#pragma once
// A series that a crash, a kill or a power cut interrupted, offered at start-up.

namespace ostrelo {

class Form1;

// Once the devices are open: when a plan is kept, asks whether its series goes on (or
// not, with ResumeWithoutAsking) and, on Yes, restores its settings and starts it at the
// next number without the save dialog. A plan that cannot be used is set aside with a
// message saying why; one that is declined is removed.
void OfferInterruptedSeries(Form1& f);

}  // namespace ostrelo
