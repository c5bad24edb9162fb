#include "dialogue.hpp"

// Arguments and environment play no part: the dialogue is all there is.
int main()
{
    return run_dialogue();
}
