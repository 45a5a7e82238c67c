-- The two stored procedures of the component list publisher (SQL Server 2016 SP1 or later:
-- CREATE OR ALTER, THROW).
-- Load with: sqlcmd -b -S HOST -d DB -i procedures.sql (GO ends each batch; a tool that sends
-- statements one by one, ODBC, sends each CREATE whole, without the GO lines).
-- The text parameters are nvarchar of the documented lengths: the program binds them as
-- UTF-16.

-- One result set, one row per component, the columns named as the program finds them.
CREATE OR ALTER PROCEDURE dbo.USP_AgentComponent_Details
    @InOSType nvarchar(50),
    @InAgentType nvarchar(10)
AS
BEGIN
    -- No row-count messages ahead of the result set.
    SET NOCOUNT ON;
    SELECT
        c.type AS [Type],
        c.name AS [Name],
        c.filepath AS [filepath],
        c.md5_value AS [MD5Value],
        c.state AS [State],
        c.agent_version AS [AgentVersion],
        c.binary_version AS [BinaryVersion],
        c.description AS [Description],
        c.dependencychk AS [dependencychk],
        c.is_reg_required AS [IsRegRequired],
        c.agent_type AS [AgentType],
        c.os_type AS [OS]
    FROM dbo.mst_agent_component AS c
    WHERE
        c.os_type = @InOSType
        AND c.agent_type = @InAgentType
    ORDER BY c.component_id;
END;
GO
-- Records the checksum of the published document; @OutStatus is 1 once the row is committed,
-- and 0 when nothing was written. A failure rolls back and raises the error (the caller logs
-- it) rather than returning a silent status.
CREATE OR ALTER PROCEDURE dbo.USP_MstAgentXmlCheckSum_IU
    @InAgentType nvarchar(50),
    @InOS nvarchar(100),
    @InMD5String nvarchar(100),
    @InReleaseDate datetime,
    @InDownloadURL nvarchar(500),
    @InSecondryURL nvarchar(500),
    @OutStatus int OUTPUT
AS
BEGIN
    SET NOCOUNT ON;
    -- Any error dooms the transaction; without implicit transactions (the setting returns to
    -- the caller's when the procedure ends) the COMMIT below is the one that makes the row
    -- durable.
    SET XACT_ABORT ON;
    SET IMPLICIT_TRANSACTIONS OFF;
    SET @OutStatus = 0;
    -- Inside a caller's transaction the COMMIT below would commit nothing, and a 1 would be
    -- a promise the caller could still roll back.
    IF @@TRANCOUNT > 0
        THROW 50001, 'USP_MstAgentXmlCheckSum_IU commits its own transaction: call it outside one', 1;
    BEGIN TRY
        BEGIN TRANSACTION;
        -- The key stays locked from the update to the insert: two runs for one pair never
        -- both insert.
        UPDATE dbo.mst_agent_xml_checksum WITH (UPDLOCK, SERIALIZABLE)
        SET
            md5_string = @InMD5String,
            release_date = @InReleaseDate,
            download_url = @InDownloadURL,
            secondary_url = @InSecondryURL,
            updated_at = getdate()
        WHERE
            agent_type = @InAgentType
            AND os = @InOS;
        IF @@ROWCOUNT = 0
            INSERT INTO dbo.mst_agent_xml_checksum (
                agent_type, os, md5_string, release_date, download_url, secondary_url,
                updated_at
            )
            VALUES (
                @InAgentType, @InOS, @InMD5String, @InReleaseDate, @InDownloadURL,
                @InSecondryURL, getdate()
            );
        COMMIT TRANSACTION;
        SET @OutStatus = 1;
    END TRY
    BEGIN CATCH
        IF @@TRANCOUNT > 0
            ROLLBACK TRANSACTION;
        SET @OutStatus = 0;
        THROW;
    END CATCH;
END;
GO
