#pragma once

#include <string>

int countWords(const std::string& text);
std::string upper(const std::string& text);
