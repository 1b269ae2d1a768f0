// The four process-wide services of the layout framework: the resource-package
// provider, the plug-in factory, the plug-in environment and the layout
// provider. Each slot holds a counted reference; setting one takes a count of
// the new service and releases the old one.
#pragma once

#include <string>

#include "core/PropertyValue.h"
#include "core/RefCounted.h"

class PackageResources;
class LayoutDocument;
class ILayoutPlugin;

class IResourcePackageProviderService : public CRefCounted {
 public:
  // Raises the layout exception on failure.
  virtual CRefPtr<PackageResources> GetPackage(const std::u16string& name) = 0;
};

class IPluginFactoryService : public CRefCounted {
 public:
  // One reference for the caller, or null.
  virtual ILayoutPlugin* CreatePlugin(const char16_t* className) = 0;
};

class IPluginEnvironmentService : public CRefCounted {
 public:
  virtual CPropertyList BuildEnvironment() = 0;
};

class ILayoutProviderService : public CRefCounted {
 public:
  // Raises the layout exception on failure.
  virtual CRefPtr<LayoutDocument> GetLayout(const std::u16string& name) = 0;
};

void SetResourcePackageProvider(IResourcePackageProviderService* service);
void ResetResourcePackageProvider();
CRefPtr<IResourcePackageProviderService> GetResourcePackageProvider();

void SetPluginFactory(IPluginFactoryService* service);
void ResetPluginFactory();
CRefPtr<IPluginFactoryService> GetPluginFactory();

void SetPluginEnvironment(IPluginEnvironmentService* service);
void ResetPluginEnvironment();
CRefPtr<IPluginEnvironmentService> GetPluginEnvironmentService();

void SetLayoutProvider(ILayoutProviderService* service);
void ResetLayoutProvider();
CRefPtr<ILayoutProviderService> GetLayoutProvider();
