# Stand-in for OpenWrt's cmake.mk: configure with the package's options in a
# build subfolder, build, then the install target with DESTDIR.
CMAKE_BINARY_SUBDIR?=openwrt-build
CMAKE_BINARY_DIR=$(PKG_BUILD_DIR)/$(CMAKE_BINARY_SUBDIR)
CMAKE_OPTIONS:=

define Build/Configure/Default
	cmake -S $(PKG_BUILD_DIR) -B $(CMAKE_BINARY_DIR) -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_OPTIONS) >/dev/null
endef

define Build/Compile/Default
	cmake --build $(CMAKE_BINARY_DIR) -j2 $(if $(1),--target $(1))
endef

define Build/Install/Default
	DESTDIR=$(PKG_INSTALL_DIR) cmake --install $(CMAKE_BINARY_DIR)
endef
