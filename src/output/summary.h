// The summary writer's own state.
#pragma once

// Forgets the first TCP sequence numbers the calling thread has seen, so
// that the next segment of every direction shows absolute numbers again.
void summary_forget_tcp_directions();
