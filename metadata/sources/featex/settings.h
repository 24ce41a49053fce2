#pragma once
// Key/value settings of the module graph: a node's own settings and the global
// settings that every module sees. Modules, built in or loaded from plug-in
// libraries, reach them only through SettingsBase, so the order of its virtual
// operations is part of the plug-in contract and must not change.
//
// Integer values are 32 bits wide whatever the platform: they read and print as
// the long of the 32-bit target did.

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

class SettingsBase {
 public:
  virtual ~SettingsBase() = default;

  virtual unsigned size() const = 0;
  // The empty string gives the first key; any other key gives the key that
  // follows it in key order.
  virtual const std::string& getNextKey(const std::string& key) const = 0;
  // A shared empty string when the key is absent.
  virtual const std::string& getString(const std::string& key) const = 0;
  virtual bool equals(const std::string& key, const std::string& value) const = 0;
  // The value read as atol reads it; dflt when the key is absent.
  virtual int32_t getLong(const std::string& key, int32_t dflt) const = 0;
  // True only for the exact value "true".
  virtual bool getBool(const std::string& key) const = 0;
  // The value read as atof reads it; dflt when the key is absent.
  virtual double getDouble(const std::string& key, double dflt) const = 0;
  virtual void remove(const std::string& key) = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;
  virtual void setLong(const std::string& key, int32_t value) = 0;
  virtual void setBool(const std::string& key, bool value) = 0;
  // One line per key in key order: key, "\t = ", value.
  virtual void print(std::ostream& os) const = 0;
};

// Keeps every value as text and converts on access; keys are ordered
// byte-wise.
class Settings : public SettingsBase {
 public:
  Settings() = default;
  Settings(const Settings&) = default;
  Settings& operator=(const Settings&) = default;

  unsigned size() const override;
  const std::string& getNextKey(const std::string& key) const override;
  const std::string& getString(const std::string& key) const override;
  bool equals(const std::string& key, const std::string& value) const override;
  int32_t getLong(const std::string& key, int32_t dflt) const override;
  bool getBool(const std::string& key) const override;
  double getDouble(const std::string& key, double dflt) const override;
  void remove(const std::string& key) override;
  void setString(const std::string& key, const std::string& value) override;
  void setLong(const std::string& key, int32_t value) override;
  void setBool(const std::string& key, bool value) override;
  void print(std::ostream& os) const override;

  // Whether the key is present (with any value, the empty one included).
  bool contains(const std::string& key) const;

 private:
  std::map<std::string, std::string> values;
};
