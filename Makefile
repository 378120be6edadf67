# Thin wrapper over CMake for the common commands. `make test` is what the README and CI run.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# ccache, where installed, shares compiled objects between builds and checkouts of the tree.
ifneq ($(shell command -v ccache),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR ?= $(CURDIR)
endif

.PHONY: all deps build test check-writes asan asan-test bench format format-check clean

all: build

deps:
	./scripts/install-deps.sh

build:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The whole suite with an empty HOME and a listing of /tmp before and after: fails when a test
# writes outside its own temporary folders.
check-writes: build
	JOBS=$(JOBS) ./scripts/check-test-writes.sh build

asan:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUPDATEBANK_SANITIZE=ON -DUPDATEBANK_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)

asan-test: asan
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

bench: build
	./bench/run.sh build

# One clang-format version for everyone (scripts/install-deps.sh installs it): another version
# formats some constructs differently.
CLANG_FORMAT ?= clang-format-14

format:
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) -i

# Fails, naming the lines, when a C++ source is not formatted as .clang-format says.
format-check:
	git ls-files '*.cpp' '*.h' | xargs $(CLANG_FORMAT) --dry-run -Werror

clean:
	rm -rf build build-asan
