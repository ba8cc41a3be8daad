#ifndef ZELKOREGISTRATION_H
#define ZELKOREGISTRATION_H

class QQmlEngine;

// Registers the element types of the QML module "Zelko" 1.0. Shared by main and
// the QML test setup so both see the same module.
void zelkoRegisterQmlTypes();

#endif
