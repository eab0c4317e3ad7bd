#pragma once

#include "core/IComponent.h"

// The launcher controller: wires the components together and runs the update,
// download, install and launch workflow.
class IOrbLauncher : public IComponent {
};
