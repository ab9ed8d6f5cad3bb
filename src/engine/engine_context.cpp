#include "engine/engine_context.h"

EngineContext& GetEngineContext() {
    // Never destroyed: workers that outlive their join bound may still read it at exit.
    static EngineContext* context = new EngineContext();
    return *context;
}
