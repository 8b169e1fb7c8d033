#include "engine/engine_state.h"

#include "engine/music_tool.h"
#include "output/captured_audio.h"

EngineState g_EngineState;

EngineState::EngineState() = default;
EngineState::~EngineState() = default;
