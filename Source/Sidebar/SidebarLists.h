#pragma once

namespace kesto {

// Puts the tags, history, popular, maintenance and trash lists into the sidebar's tabs 2 to 6.
// Call before the sidebar is built.
void registerSidebarLists();

}  // namespace kesto
