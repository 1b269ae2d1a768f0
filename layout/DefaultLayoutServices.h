// The layout framework's own four services (layout/LayoutServices.h): the
// package provider, the plug-in factory, the plug-in environment and the
// layout provider over the program's packages.
#pragma once

// Installs them in start-up order (package provider, plug-in factory,
// environment, layout provider), and removes them.
void InstallLayoutServices();
void RemoveLayoutServices();
