#pragma once

// A browser's bookmark file of generated bookmarks, as the import benchmarks read it: 500 folders
// three deep (each top folder holds a folder holding a folder), bookmarks spread evenly, 20%
// tagged, 10% with notes, browser-style dates and icons; about 200 bytes a bookmark.

#include <string>

namespace kesto::bench {

inline std::string generatedNetscapeFile(int bookmarks = 50000, int topFolders = 125) {
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- This is an automatically generated file.\n"
      "     It will be read and overwritten.\n     DO NOT EDIT! -->\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n<TITLE>Bookmarks</TITLE>\n"
      "<H1>Bookmarks Menu</H1>\n\n<DL><p>\n";
  const int perFolder = bookmarks / (topFolders * 4);
  int n = 0;
  auto items = [&](const std::string& indent, int count) {
    for (int i = 0; i < count; ++i, ++n) {
      out += indent + "<DT><A HREF=\"https://site" + std::to_string(n % 4999) + ".example.org/articles/" +
             std::to_string(n) + "/a-reasonably-long-slug-for-the-page\" ADD_DATE=\"1733500800\" LAST_MODIFIED=\"1733500900\"";
      if (n % 5 == 0) out += " TAGS=\"tag" + std::to_string(n % 300) + ",reading_list\"";
      out += " ICON_URI=\"https://site" + std::to_string(n % 4999) + ".example.org/favicon.ico\">Article number " +
             std::to_string(n) + " about things &amp; stuff</A>\n";
      if (n % 10 == 0) out += indent + "<DD>A note about article " + std::to_string(n) + "\n";
    }
  };
  for (int t = 0; t < topFolders; ++t) {
    const std::string id = std::to_string(t);
    out += "    <DT><H3 ADD_DATE=\"1733500800\" LAST_MODIFIED=\"1733500900\">Folder " + id + "</H3>\n    <DL><p>\n";
    out += "        <DT><H3 ADD_DATE=\"1733500800\" LAST_MODIFIED=\"1733500900\">Sub " + id + "</H3>\n        <DL><p>\n";
    out += "            <DT><H3 ADD_DATE=\"1733500800\" LAST_MODIFIED=\"1733500900\">Deep " + id + "</H3>\n            <DL><p>\n";
    items("                ", perFolder * 2);
    out += "            </DL><p>\n";
    items("            ", perFolder);
    out += "        </DL><p>\n";
    items("        ", perFolder);
    out += "    </DL><p>\n";
  }
  out += "</DL>\n";
  return out;
}

}  // namespace kesto::bench
