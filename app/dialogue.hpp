#pragma once

// Asks for two dates, orders them and reports the order as a number and as a
// sentence. Returns the exit status: 0 once the verdict is written, 1 when
// input ended before two dates stood or output could not be written.
[[nodiscard]] int run_dialogue() noexcept;
