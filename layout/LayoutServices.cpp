#include "layout/LayoutServices.h"

#include <mutex>

namespace {

std::mutex g_servicesLock;
CRefPtr<IResourcePackageProviderService> g_packages;
CRefPtr<IPluginFactoryService> g_factory;
CRefPtr<IPluginEnvironmentService> g_environment;
CRefPtr<ILayoutProviderService> g_layouts;

template <class T>
void SetSlot(CRefPtr<T>& slot, T* service) {
  CRefPtr<T> next(service);
  CRefPtr<T> old;
  {
    std::lock_guard<std::mutex> hold(g_servicesLock);
    old = slot;
    slot = next;
  }
  // The old service goes outside the lock: its destructor may call back.
}

template <class T>
CRefPtr<T> GetSlot(const CRefPtr<T>& slot) {
  std::lock_guard<std::mutex> hold(g_servicesLock);
  return slot;
}
}  // namespace

void SetResourcePackageProvider(IResourcePackageProviderService* service) { SetSlot(g_packages, service); }
void ResetResourcePackageProvider() { SetSlot<IResourcePackageProviderService>(g_packages, nullptr); }
CRefPtr<IResourcePackageProviderService> GetResourcePackageProvider() { return GetSlot(g_packages); }

void SetPluginFactory(IPluginFactoryService* service) { SetSlot(g_factory, service); }
void ResetPluginFactory() { SetSlot<IPluginFactoryService>(g_factory, nullptr); }
CRefPtr<IPluginFactoryService> GetPluginFactory() { return GetSlot(g_factory); }

void SetPluginEnvironment(IPluginEnvironmentService* service) { SetSlot(g_environment, service); }
void ResetPluginEnvironment() { SetSlot<IPluginEnvironmentService>(g_environment, nullptr); }
CRefPtr<IPluginEnvironmentService> GetPluginEnvironmentService() { return GetSlot(g_environment); }

void SetLayoutProvider(ILayoutProviderService* service) { SetSlot(g_layouts, service); }
void ResetLayoutProvider() { SetSlot<ILayoutProviderService>(g_layouts, nullptr); }
CRefPtr<ILayoutProviderService> GetLayoutProvider() { return GetSlot(g_layouts); }
