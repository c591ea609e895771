#pragma once

// How a command ended, for a caller that acts on it (the command line's exit code); the window
// shows the command's own messages only.

namespace deploy {

struct CommandResult {
    enum class End {
        None,         // stopped by a failure (raised to the caller)
        Done,         // everything done: the success message
        NothingToDo,  // Install found everything in place and wrote nothing
        Shortfall,  // done, but some of it could not be ("выполнена не полностью")
        Refused     // refused before it changed anything (no version, language or selection)
    };
    End end = End::None;
    // Whether the command may have changed the catalog or the user's files; set as it goes, so
    // it holds also when a failure is raised.
    bool changed = false;
};

}  // namespace deploy
