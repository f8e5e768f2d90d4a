#pragma once

#include "records/Sample.h"

#include <cstddef>
#include <memory>
#include <vector>

// The samples of one record: an index-addressed array that only grows, kept
// in fixed blocks so that growing never copies what is stored (no pause on a
// 100-hour test) and wastes at most one block.
class SampleArray {
public:
    static constexpr size_t kBlockBits = 12;
    static constexpr size_t kBlockSize = size_t(1) << kBlockBits; // samples per block

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    const Sample& operator[](size_t i) const {
        return m_blocks[i >> kBlockBits][i & (kBlockSize - 1)];
    }
    Sample& operator[](size_t i) { return m_blocks[i >> kBlockBits][i & (kBlockSize - 1)]; }

    // Grows to n slots; new slots are empty samples.
    void resize(size_t n) {
        while (m_blocks.size() * kBlockSize < n)
            m_blocks.push_back(std::make_unique<Sample[]>(kBlockSize));
        for (size_t i = n; i < m_size; ++i) (*this)[i] = Sample();
        m_size = n;
    }

    void clear() {
        m_blocks.clear();
        m_size = 0;
    }

    // Bytes held for the samples.
    size_t AllocatedBytes() const { return m_blocks.size() * kBlockSize * sizeof(Sample); }

private:
    std::vector<std::unique_ptr<Sample[]>> m_blocks;
    size_t m_size = 0;
};
