#pragma once

#include "Platform/Foundation/NotificationName.h"

namespace kesto {

// Posted with the source list as object. The expansion names carry the item under
// SourceListItemKey; the delete-key name carries the selected rows (ascending integers) under
// SourceListRowsKey.
inline constexpr fnd::NotificationName SourceListSelectionIsChangingNotification{"SourceListSelectionIsChanging"};
inline constexpr fnd::NotificationName SourceListSelectionDidChangeNotification{"SourceListSelectionDidChange"};
inline constexpr fnd::NotificationName SourceListItemWillExpandNotification{"SourceListItemWillExpand"};
inline constexpr fnd::NotificationName SourceListItemDidExpandNotification{"SourceListItemDidExpand"};
inline constexpr fnd::NotificationName SourceListItemWillCollapseNotification{"SourceListItemWillCollapse"};
inline constexpr fnd::NotificationName SourceListItemDidCollapseNotification{"SourceListItemDidCollapse"};
inline constexpr fnd::NotificationName SourceListDeleteKeyPressedOnRowsNotification{"SourceListDeleteKeyPressedOnRows"};

}  // namespace kesto
