# Stand-in for OpenWrt's package.mk: the build steps as targets, and each
# Package/<name>/install recipe run into $(WORK)/root/<name>.
PKG_BUILD_DIR?=$(BUILD_DIR)/$(PKG_NAME)-$(PKG_VERSION)
PKG_INSTALL_DIR?=$(PKG_BUILD_DIR)/ipkg-install

.PHONY: prepare configure compile install print-%

prepare:
	rm -rf $(PKG_BUILD_DIR)
	$(call Build/Prepare)

configure: prepare
	$(call Build/Configure/Default)

compile: configure
	$(if $(Build/Compile),$(call Build/Compile),$(call Build/Compile/Default))

# Only with PKG_INSTALL, as the real build runs the install step.
install: compile
	rm -rf $(PKG_INSTALL_DIR)
	$(if $(filter 1,$(PKG_INSTALL)),$(call Build/Install/Default),@echo "PKG_INSTALL not set: no install step")

print-%:
	@echo '$(strip $($*))'

# DEPENDS as the package's own definition leaves it, read with print-DEPENDS.<name>.
define BuildPackage
$(eval DEPENDS:=)
$(eval $(Package/$(1)))
DEPENDS.$(1):=$(DEPENDS)
.PHONY: package-$(1) conffiles-$(1)
package-$(1):
	rm -rf $(WORK)/root/$(1)
	mkdir -p $(WORK)/root/$(1)
	$$(call Package/$(1)/install,$(WORK)/root/$(1))

conffiles-$(1):
	@echo '$$(strip $$(Package/$(1)/conffiles))'
endef
