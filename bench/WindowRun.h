#pragma once

#include <string>
#include <vector>

namespace bench {

struct WindowTally {
    bool succeeded = false;  // the run ended with the success box
    double seconds = 0;      // from the click to the end box
    std::vector<std::string> problems;  // any other box
};

// The engine behind the real window, offscreen: the central path is chosen
// through the window's open-file dialog seam, the list gets one entry per
// company code through the window's list, then the converter picture is
// clicked with the mouse. The run repaints the label and the gauge and
// processes events once per row, as it does for a user. Needs a
// QApplication.
WindowTally runWindow(const std::string& branch, const std::string& central, const std::vector<std::string>& codes);

}  // namespace bench
