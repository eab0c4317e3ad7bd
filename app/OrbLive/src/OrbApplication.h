#pragma once

// The launcher's start-up and shutdown sequence; main() only calls this.
int OrbLauncherMain(int argc, char** argv);
