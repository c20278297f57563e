#pragma once

// The switch that stops a run's decoders: what the rest of the program may use of the decoder
// processes (a break in the window, Ctrl-C in the console, the end of a run).

/// Kills every decoder in work at once and refuses to start more until AllowDecoders: a stopped
/// run does not wait for the decode of its file in work. Async-signal-safe, for any thread.
void StopDecoders();

/// Lets decoders start again after StopDecoders.
void AllowDecoders();

/// True from StopDecoders until AllowDecoders.
bool DecodersStopped();
