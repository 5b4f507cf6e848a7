// Text in JSON, for the station's events on a console and on its web page.
#pragma once

#include <string>

// The text as a JSON string, quotes included.
std::string json_text(const std::string &text);
