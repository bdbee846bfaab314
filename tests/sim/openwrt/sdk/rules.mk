# Stand-in for OpenWrt's rules.mk: the install helpers with the modes the
# build system gives them. WORK (on the make command line) holds the build
# folder and the package roots.
INCLUDE_DIR:=$(TOPDIR)/include
BUILD_DIR:=$(WORK)/build_dir
INSTALL_DIR:=install -d -m0755
INSTALL_BIN:=install -m0755
INSTALL_DATA:=install -m0644
INSTALL_CONF:=install -m0600
CP:=cp -fpR
