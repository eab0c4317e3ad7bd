#pragma once

// The composition root: which components exist, in which order they start and
// end, and the start-up and shutdown around them. main() only calls this.
int OrbLauncherMain(int argc, char** argv);
