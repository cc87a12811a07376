#pragma once

// Declares the URL loading layer's classes for headers that only hold pointers or references to
// them, so they need not pull in the full headers.
namespace kesto::net {

class InputStream;
class OutputStream;
class ServerTrust;
class URL;
class URLConnection;
class URLResponse;
class URLSession;

}  // namespace kesto::net
