// The music engine's built-in classes: the DirectMusic object, the performance
// and the loader.
#pragma once

namespace platform {

// Enters the music engine's classes in the class table, once per process; later
// calls do nothing, so a class that a test substitutes after the first call stays.
void RegisterMusicEngineClasses();

}  // namespace platform
