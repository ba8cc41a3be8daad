#ifndef ZELKOREGISTRATION_H
#define ZELKOREGISTRATION_H

class QQmlEngine;

// Registers the element types of the QML module "Zelko" 1.0. Shared by main, the
// QML test setup and the module's plugin, so all see the same module. Returns
// false, registering nothing, when the types are registered already.
bool zelkoRegisterQmlTypes();

#endif
