#pragma once

// Declares the foundation layer's classes for headers that only hold pointers or references to
// them, so they need not pull in the full headers.
namespace kesto::fnd {

class Date;
class DispatchGroup;
class DispatchQueue;
class Error;
class KeyedArchiver;
struct Notification;
class Operation;
class OperationQueue;
class Timer;
class UndoManager;
class Value;
class XmlParser;

}  // namespace kesto::fnd
