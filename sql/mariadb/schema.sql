-- Tables behind the two stored procedures of the component list publisher (MariaDB).
-- Load with: mariadb DB < schema.sql
-- The case-insensitive collation makes agent type and OS match without regard to letter case.

-- One row per component of one agent type on one OS type.
CREATE TABLE mst_agent_component (
    component_id    INT          NOT NULL AUTO_INCREMENT PRIMARY KEY,
    agent_type      VARCHAR(10)  NOT NULL,
    os_type         VARCHAR(50)  NOT NULL,
    type            VARCHAR(50),
    name            VARCHAR(255),
    filepath        VARCHAR(500),
    md5_value       VARCHAR(100),
    state           VARCHAR(50),
    agent_version   VARCHAR(50),
    binary_version  VARCHAR(50),
    description     VARCHAR(2000),
    dependencychk   VARCHAR(2000),
    is_reg_required BOOLEAN,
    KEY mst_agent_component_pair (agent_type, os_type)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;
-- The checksum of the latest published document, one row per agent type and OS.
CREATE TABLE mst_agent_xml_checksum (
    agent_type     VARCHAR(50)  NOT NULL,
    os             VARCHAR(100) NOT NULL,
    md5_string     VARCHAR(100),
    release_date   DATETIME,
    download_url   VARCHAR(500),
    secondary_url  VARCHAR(500),
    updated_at     DATETIME     NOT NULL DEFAULT CURRENT_TIMESTAMP,
    PRIMARY KEY (agent_type, os)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci;
