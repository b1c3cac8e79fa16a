# Top-level commands. `make demo` and `make test` do all set-up on a fresh Debian 12 machine.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR    := build/asan
FUZZ_DIR    := build/fuzz
PREFIX      ?= $(CURDIR)/build/install

.PHONY: all deps release demo test bench fuzz install package clean

all: release

deps:
	@scripts/install-deps.sh

$(RELEASE_DIR)/build.ninja: | deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(TEST_DIR)/build.ninja: | deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIN_SANITIZE=ON -DTARMIN_BENCH=OFF

release: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: release
	scripts/demo.sh $(RELEASE_DIR)

test: deps $(TEST_DIR)/build.ninja
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest -j $(JOBS) --output-on-failure --no-tests=error

bench: release
	scripts/bench.sh $(RELEASE_DIR)

FUZZ_SECONDS ?= 30

fuzz:
	scripts/install-deps.sh clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARMIN_FUZZ=ON -DTARMIN_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

install: release
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# Debian packages of the release build in build/packages: tarmin (programs),
# libtarmin3 (libraries), libtarmin-dev (headers, pkg-config, CMake package).
PACKAGE_DIR := build/packages

package: release
	cpack --config $(RELEASE_DIR)/CPackConfig.cmake -B $(CURDIR)/$(PACKAGE_DIR)
	@ls $(PACKAGE_DIR)/*.deb

clean:
	rm -rf build
