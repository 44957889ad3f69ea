// The accessible faces Qt has none fitting for: the knob as a dial whose value
// can be read and set, the unit buttons as radio buttons (Qt calls a radio
// button that is not auto-exclusive a check box), the lights, and menu items
// whose press returns at once.
//
// Everything a screen reader invokes returns before the handler runs: the
// handler, and any message box it opens, follow from the event loop, so the
// reader is not held until the box is closed.
#pragma once

namespace pts {

// Installs the factory for the panel's widgets and menu items (once).
void InstallAccessibleFactory();

}  // namespace pts
