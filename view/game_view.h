// The game view's render loop (render thread).
#pragma once

void RenderWhile();
